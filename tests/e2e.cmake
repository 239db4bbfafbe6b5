# End-to-end: the kestrix program run over real AVI files.
kestrix_add_test(kestrix_e2e_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/kestrix_e2e_test.cpp ${CMAKE_CURRENT_LIST_DIR}/track_reference.cpp
  LIBS kestrix_test_movies kestrix_track)
target_compile_definitions(kestrix_e2e_test PRIVATE
  KESTRIX_BINARY="$<TARGET_FILE:kestrix>")
add_dependencies(kestrix_e2e_test kestrix)

kestrix_add_test(ffmpeg_movie_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ffmpeg_movie_test.cpp ${CMAKE_CURRENT_LIST_DIR}/track_reference.cpp
  LIBS kestrix_track)
target_compile_definitions(ffmpeg_movie_test PRIVATE
  KESTRIX_BINARY="$<TARGET_FILE:kestrix>"
  $<$<BOOL:${KESTRIX_WITH_FFMPEG}>:KESTRIX_WITH_FFMPEG=1>)
add_dependencies(ffmpeg_movie_test kestrix)
