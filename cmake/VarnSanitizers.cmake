# VARN_SANITIZE=thread or address builds everything with that sanitizer.
if(VARN_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(VARN_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
elseif(NOT VARN_SANITIZE STREQUAL "")
  message(FATAL_ERROR "VARN_SANITIZE must be empty, thread or address")
endif()
