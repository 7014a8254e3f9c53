# Protocol engine: transports, protocol clients, decoders (plain C++).
target_sources(quillnet_core PRIVATE
  engine/tls.cpp
  engine/tls_errors.cpp
  engine/transport.cpp
  engine/line_engine.cpp
  engine/conversation.cpp
  engine/server_address.cpp)
# Mail and web clients.
target_sources(quillnet_core PRIVATE
  engine/smtp_client.cpp
  engine/mail_message.cpp
  engine/machine.cpp
  engine/http_client.cpp)
# News client (NNTP).
target_sources(quillnet_core PRIVATE
  engine/news_client.cpp
  engine/news_pool.cpp
  engine/news_article.cpp)
target_sources(quillnet_core PRIVATE engine/decoding.cpp engine/crc32.cpp engine/base64.cpp engine/quoted_printable.cpp engine/uudecode.cpp engine/yenc.cpp engine/charset.cpp engine/charset_ansi.cpp engine/mime_part.cpp engine/scan.cpp engine/utf8_text.cpp)
