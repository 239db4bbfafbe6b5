# Conversion of any returned frame into the packer's 432 x 160 picture.
target_sources(kestrix_track PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/picture_layout.cpp
  ${CMAKE_CURRENT_LIST_DIR}/row_expand.cpp
  ${CMAKE_CURRENT_LIST_DIR}/picture_scale.cpp
  ${CMAKE_CURRENT_LIST_DIR}/picture_convert.cpp
)

if(KESTRIX_BUILD_TESTS)
  kestrix_add_test(picture_convert_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/picture_convert_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/allocation_count_test_support.cpp
    LIBS kestrix_track)
endif()
