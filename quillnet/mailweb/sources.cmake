# Mail sender and web fetcher: their logic is plain C++ in quillnet_core, the
# COM classes are thin wrappers in the DLL.
target_sources(quillnet_core PRIVATE
  mailweb/mail_sender.cpp
  mailweb/web_fetcher.cpp)
target_link_libraries(quillnet_core PUBLIC winhttp)
target_sources(Quillnet PRIVATE
  mailweb/my_smtp.cpp
  mailweb/my_http.cpp)
