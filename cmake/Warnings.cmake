# Per-target warnings; CI turns them into errors with ORVELLA_WERROR.
function(orvella_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow)
  if(ORVELLA_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
