# Protocol engine: transports, protocol clients, decoders (plain C++).
target_sources(quillnet_core PRIVATE
  engine/transport.cpp
  engine/line_engine.cpp)
# News client (NNTP).
target_sources(quillnet_core PRIVATE
  engine/news_client.cpp)
