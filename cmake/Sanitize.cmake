# LEDGER_SANITIZE names the sanitizers that every target of the build is compiled and linked
# with, as -fsanitize= takes them (the asan preset: address,undefined). A finding ends the
# program instead of letting it go on, so that no report passes unnoticed.
set(LEDGER_SANITIZE "" CACHE STRING "Sanitizers for every target, as -fsanitize= takes them")
if(LEDGER_SANITIZE)
  add_compile_options(-fsanitize=${LEDGER_SANITIZE} -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${LEDGER_SANITIZE})
endif()
