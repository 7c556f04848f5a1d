# Sanitizer instrumentation for the Linux test builds.
if(BLADEPOST_SANITIZE AND NOT WIN32)
  string(REPLACE "," ";" _sanitizers "${BLADEPOST_SANITIZE}")
  set(_flags "")
  foreach(_sanitizer IN LISTS _sanitizers)
    list(APPEND _flags "-fsanitize=${_sanitizer}")
  endforeach()
  list(APPEND _flags -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_compile_options(${_flags})
  add_link_options(${_flags})
  if("thread" IN_LIST _sanitizers)
    # ThreadSanitizer does not model the fences of Boost.Asio's fenced blocks;
    # the scheduler's own locking orders the handlers.
    add_compile_definitions(BOOST_ASIO_DISABLE_FENCED_BLOCK)
  endif()
endif()
