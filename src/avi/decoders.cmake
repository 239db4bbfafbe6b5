# Compressed pictures: decoded through FFmpeg, or not at all.
#
# With FFmpeg the decoders live in a module loaded at run time
# (kestrix-decoders.so, beside the program in the build tree and in
# <libdir>/kestrix when installed), so that the program itself does not link
# FFmpeg's libraries and an uncompressed movie never loads them.
if(KESTRIX_WITH_FFMPEG)
  message(STATUS "kestrix: decoding compressed pictures through FFmpeg (loaded module)")
  # FFmpeg's AVI picture tags, copied out of libavformat at build time so
  # that the module does not load libavformat (see riff_tags_gen.cpp).
  add_executable(kestrix_riff_tags_gen ${CMAKE_CURRENT_LIST_DIR}/riff_tags_gen.cpp)
  target_link_libraries(kestrix_riff_tags_gen PRIVATE PkgConfig::FFMPEG)
  set(kestrix_tags_dir ${CMAKE_CURRENT_BINARY_DIR}/generated)
  add_custom_command(
    OUTPUT ${kestrix_tags_dir}/riff_video_tags.inc
    COMMAND ${CMAKE_COMMAND} -E make_directory ${kestrix_tags_dir}
    COMMAND kestrix_riff_tags_gen > ${kestrix_tags_dir}/riff_video_tags.inc.tmp
    COMMAND ${CMAKE_COMMAND} -E rename ${kestrix_tags_dir}/riff_video_tags.inc.tmp
            ${kestrix_tags_dir}/riff_video_tags.inc
    DEPENDS kestrix_riff_tags_gen
    COMMENT "Copying FFmpeg's AVI picture tags")
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/codec_map.cpp PROPERTIES
    OBJECT_DEPENDS ${kestrix_tags_dir}/riff_video_tags.inc)

  add_library(kestrix_decoders MODULE
    ${CMAKE_CURRENT_LIST_DIR}/decoding_getter.cpp
    ${CMAKE_CURRENT_LIST_DIR}/codec_map.cpp
    ${CMAKE_CURRENT_LIST_DIR}/file_reader.cpp
    ${kestrix_tags_dir}/riff_video_tags.inc)
  target_include_directories(kestrix_decoders PRIVATE ${KESTRIX_SOURCE_ROOT} ${kestrix_tags_dir})
  # libavcodec, libavutil and libswscale only: not libavformat.
  pkg_check_modules(KESTRIX_DECODER_LIBS REQUIRED IMPORTED_TARGET libavcodec libavutil libswscale)
  target_link_libraries(kestrix_decoders PRIVATE PkgConfig::KESTRIX_DECODER_LIBS)
  set_target_properties(kestrix_decoders PROPERTIES
    PREFIX ""
    OUTPUT_NAME kestrix-decoders
    LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  install(TARGETS kestrix_decoders LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/kestrix)

  # The loader: where the installed module lies relative to the installed
  # program, and the build tree's module as the last place to look.
  file(RELATIVE_PATH kestrix_module_dir /prefix/${CMAKE_INSTALL_BINDIR}
       /prefix/${CMAKE_INSTALL_LIBDIR}/kestrix)
  target_sources(kestrix_avi PRIVATE ${CMAKE_CURRENT_LIST_DIR}/decoder_module.cpp)
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/decoder_module.cpp PROPERTIES
    COMPILE_DEFINITIONS
    "KESTRIX_DECODER_MODULE_INSTALL_DIR=\"${kestrix_module_dir}\";KESTRIX_DECODER_MODULE_BUILD_PATH=\"$<TARGET_FILE:kestrix_decoders>\"")
  target_link_libraries(kestrix_avi PUBLIC ${CMAKE_DL_LIBS})
  add_dependencies(kestrix_avi kestrix_decoders)

  if(KESTRIX_BUILD_TESTS)
    kestrix_add_test(decoding_getter_test
      SOURCES ${CMAKE_CURRENT_LIST_DIR}/decoding_getter_test.cpp
              ${CMAKE_CURRENT_LIST_DIR}/decoder_module_test.cpp
      LIBS kestrix_avi)
    add_dependencies(decoding_getter_test kestrix_decoders)
    target_compile_definitions(decoding_getter_test PRIVATE
      KESTRIX_DECODER_MODULE_BUILD_PATH="$<TARGET_FILE:kestrix_decoders>")

    # The copied tags answer as libavformat's own lookup does.
    kestrix_add_test(codec_map_test
      SOURCES ${CMAKE_CURRENT_LIST_DIR}/codec_map_test.cpp ${CMAKE_CURRENT_LIST_DIR}/codec_map.cpp
              ${kestrix_tags_dir}/riff_video_tags.inc
      LIBS PkgConfig::FFMPEG)
    target_include_directories(codec_map_test PRIVATE ${kestrix_tags_dir})
  endif()
else()
  target_sources(kestrix_avi PRIVATE ${CMAKE_CURRENT_LIST_DIR}/decoding_getter_none.cpp)
endif()
