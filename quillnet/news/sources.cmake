target_sources(quillnet_core PRIVATE
  news/article_list.cpp
  news/article_record.cpp)
target_sources(Quillnet PRIVATE
  news/articles_manager.cpp
  news/my_nntp.cpp
  news/news_pool_watcher.cpp)
# News session: its logic and the article store's folders.
target_sources(quillnet_core PRIVATE
  news/news_session.cpp
  news/group_folders.cpp)
target_sources(quillnet_core PRIVATE news/article_decode.cpp news/article_text.cpp news/file_names.cpp news/store_files.cpp news/stored_copy.cpp)
