# Helpers shared by the plugin folders and the C++ tests.

# Flags of the optional SIMD files, chosen by file name suffix.
function(orvo_simd_flags)
  foreach(src IN LISTS ARGN)
    if(src MATCHES "_avx2\\.cpp$")
      set_source_files_properties(${src} PROPERTIES COMPILE_OPTIONS "-mavx2;-mfma;-mbmi2")
    elseif(src MATCHES "_sse41\\.cpp$")
      set_source_files_properties(${src} PROPERTIES COMPILE_OPTIONS "-msse4.1")
    endif()
  endforeach()
endfunction()

# orvo_add_kernels(ns sources...): static library <ns>_kernels, free of VapourSynth.
function(orvo_add_kernels ns)
  orvo_simd_flags(${ARGN})
  add_library(${ns}_kernels STATIC ${ARGN})
  target_include_directories(${ns}_kernels PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/plugins/common)
  target_compile_options(${ns}_kernels PRIVATE -O3)
endfunction()

# orvo_add_plugin(ns sources...): VapourSynth plugin <ns>.so, installed into orvo/plugins.
function(orvo_add_plugin ns)
  if(ORVO_KERNEL_TESTS_ONLY)
    return()
  endif()
  add_library(plugin_${ns} MODULE ${ARGN})
  set_target_properties(plugin_${ns} PROPERTIES PREFIX "" OUTPUT_NAME ${ns})
  target_include_directories(plugin_${ns} PRIVATE ${VS_INCLUDE_DIR} ${PROJECT_SOURCE_DIR}/plugins/common)
  target_compile_options(plugin_${ns} PRIVATE -O2)
  if(TARGET ${ns}_kernels)
    target_link_libraries(plugin_${ns} PRIVATE ${ns}_kernels)
  endif()
  if(ORVO_SANITIZE)
    # Instrumented plugins never replace the package's own; the fuzz driver loads them from here.
    set_target_properties(plugin_${ns} PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/plugins)
  elseif(ORVO_INPLACE)
    set_target_properties(plugin_${ns} PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${ORVO_PKG_DIR}/plugins)
  endif()
  install(TARGETS plugin_${ns} LIBRARY DESTINATION orvo/plugins)
endfunction()

# orvo_add_kernel_test(name sources... [LIBS libs...]): a C++ test run by ctest.
function(orvo_add_kernel_test name)
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  add_executable(test_${name} ${T_UNPARSED_ARGUMENTS})
  target_include_directories(test_${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/cpp ${PROJECT_SOURCE_DIR}/plugins/common)
  target_link_libraries(test_${name} PRIVATE ${T_LIBS})
  add_test(NAME ${name} COMMAND test_${name})
endfunction()
