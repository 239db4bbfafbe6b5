# Compressed pictures: decoded through FFmpeg, or not at all.
if(KESTRIX_WITH_FFMPEG)
  message(STATUS "kestrix: decoding compressed pictures through FFmpeg")
  target_sources(kestrix_avi PRIVATE ${CMAKE_CURRENT_LIST_DIR}/decoding_getter_none.cpp)
else()
  target_sources(kestrix_avi PRIVATE ${CMAKE_CURRENT_LIST_DIR}/decoding_getter_none.cpp)
endif()
