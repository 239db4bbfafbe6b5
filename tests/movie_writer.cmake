# The test-movie writer: AVI files made by the tests themselves.
add_library(kestrix_test_movies STATIC ${CMAKE_CURRENT_LIST_DIR}/movie_writer.cpp)
target_include_directories(kestrix_test_movies PUBLIC ${PROJECT_SOURCE_DIR})
