target_sources(Quillnet PRIVATE
  mailweb/my_smtp.cpp
  mailweb/my_http.cpp)
