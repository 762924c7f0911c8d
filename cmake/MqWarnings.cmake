# Warnings on everywhere; errors in CI (MQ_WERROR=ON).
add_compile_options(-Wall -Wextra -Wpedantic -Wnon-virtual-dtor)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_compile_options(-Wshadow=local)
else()
  # Clang also checks the lock annotations (util/thread_annotations.h): data
  # marked as guarded by a mutex is only touched with that mutex held.
  add_compile_options(-Wshadow-uncaptured-local -Wthread-safety)
endif()
if(MQ_WERROR)
  add_compile_options(-Werror)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # GCC 12's flow-sensitive checks misfire inside the standard library's
    # inlined code at -O2 (vector inserts; std::regex under the sanitizers);
    # keep them as warnings only.
    add_compile_options(-Wno-error=array-bounds -Wno-error=stringop-overflow
                        -Wno-error=stringop-overread -Wno-error=restrict
                        -Wno-error=maybe-uninitialized)
  endif()
endif()
if(MQ_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(MQ_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
find_package(Threads REQUIRED)
link_libraries(Threads::Threads)
