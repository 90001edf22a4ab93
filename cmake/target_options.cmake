# What every target this project makes is compiled and linked with, set on
# each target rather than on the directory, so that none of it reaches a
# project that takes this one in; qor::xml hands on only what linking it
# needs.
set(QOR_SANITIZE_COMPILE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
set(QOR_SANITIZE_LINK -fsanitize=address,undefined)

# qor_set_target_options(DIR): every compiled target made in DIR and the
# directories below it:
# - C++17 without compiler extensions;
# - 64-bit file offsets in 32-bit POSIX builds too, or a file past 2 GiB is
#   refused (EOVERFLOW); consumers of the installed library need not, as
#   its headers carry no off_t;
# - with QOR_SANITIZE, the sanitizers, whose runtime a program linking the
#   static library from this build then needs as well.
function(qor_set_target_options dir)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(NOT type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$")
      continue()
    endif()
    set_target_properties(${target} PROPERTIES CXX_STANDARD 17 CXX_STANDARD_REQUIRED ON CXX_EXTENSIONS OFF)
    if(NOT WIN32)
      target_compile_definitions(${target} PRIVATE _FILE_OFFSET_BITS=64)
    endif()
    if(QOR_SANITIZE)
      target_compile_options(${target} PRIVATE ${QOR_SANITIZE_COMPILE})
      if(type STREQUAL "STATIC_LIBRARY")
        target_link_options(${target} INTERFACE $<BUILD_INTERFACE:${QOR_SANITIZE_LINK}>)
      else()
        target_link_options(${target} PRIVATE ${QOR_SANITIZE_LINK})
      endif()
    endif()
  endforeach()
  get_property(subdirectories DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(subdirectory IN LISTS subdirectories)
    qor_set_target_options(${subdirectory})
  endforeach()
endfunction()
