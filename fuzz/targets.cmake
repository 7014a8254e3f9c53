# The fuzz targets, one per surface: targets/<name>.cpp. Read by the native
# fuzz build (fuzz/CMakeLists.txt) and by the Windows tests that replay the
# findings (tests/fuzz).
set(QK_FUZZ_TARGETS
  base64 quoted_printable uudecode yenc
  mime_part mime_words utf8_text attachments safe_name
  posted_body registrar line_engine server_address
  picture_format jpeg_preview png_reader orientation
  news_article mail_message stored_copy)
# Targets that reach the network through connect_tcp, which only the native
# build answers with a scripted server: not replayed by the Windows tests.
set(QK_FUZZ_NATIVE_TARGETS news_client smtp_client)
