# duzavod_library(<name> <sources>...): a static library of one subsystem. Kernel sources (.cu) are
# compiled by nvcc in the CUDA build and as C++ against the host device layer otherwise.
function(duzavod_library name)
  add_library(${name} STATIC ${ARGN})
  duzavod_kernel_sources(${name})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC dz_device)
endfunction()

# Marks the .cu sources of a target as C++ when there is no CUDA compiler in the build.
function(duzavod_kernel_sources target)
  if(DUZAVOD_CUDA)
    return()
  endif()
  get_target_property(sources ${target} SOURCES)
  foreach(src IN LISTS sources)
    if(src MATCHES "\\.cu$")
      set_source_files_properties(${src} TARGET_DIRECTORY ${target} PROPERTIES LANGUAGE CXX)
    endif()
  endforeach()
endfunction()
