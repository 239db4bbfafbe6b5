# The test-movie writer: AVI files made by the tests themselves.
add_library(kestrix_test_movies STATIC ${CMAKE_CURRENT_LIST_DIR}/movie_writer.cpp)
target_include_directories(kestrix_test_movies PUBLIC ${PROJECT_SOURCE_DIR})

# make_test_movie: one test movie written to a file, for the scripts.
add_executable(make_test_movie ${CMAKE_CURRENT_LIST_DIR}/make_test_movie.cpp)
target_link_libraries(make_test_movie PRIVATE kestrix_test_movies)
