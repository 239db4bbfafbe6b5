# Compressed pictures: decoded through FFmpeg, or not at all.
if(KESTRIX_WITH_FFMPEG)
  message(STATUS "kestrix: decoding compressed pictures through FFmpeg")
  target_sources(kestrix_avi PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/codec_map.cpp
    ${CMAKE_CURRENT_LIST_DIR}/decoding_getter.cpp)
  target_link_libraries(kestrix_avi PUBLIC PkgConfig::FFMPEG)
  if(KESTRIX_BUILD_TESTS)
    kestrix_add_test(decoding_getter_test
      SOURCES ${CMAKE_CURRENT_LIST_DIR}/decoding_getter_test.cpp
      LIBS kestrix_avi)
  endif()
else()
  target_sources(kestrix_avi PRIVATE ${CMAKE_CURRENT_LIST_DIR}/decoding_getter_none.cpp)
endif()
