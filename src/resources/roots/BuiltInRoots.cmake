# The built-in root certificates, compiled into the program as byte arrays.
#
# The committed DevelopmentRootA.der and DevelopmentRootB.der are the
# product's development roots: their private keys live under tests/keys and
# sign what the tests verify. A release build replaces both with the release
# roots:
#   cmake ... -DGLINT_ROOT_A_CERT=/path/release-a.der -DGLINT_ROOT_B_CERT=/path/release-b.der
set(GLINT_ROOT_A_CERT ${CMAKE_CURRENT_LIST_DIR}/DevelopmentRootA.der
    CACHE FILEPATH "DER certificate of built-in root A (add-in packages and manifests)")
set(GLINT_ROOT_B_CERT ${CMAKE_CURRENT_LIST_DIR}/DevelopmentRootB.der
    CACHE FILEPATH "DER certificate of built-in root B (shortcut authorisations)")

function(glint_der_bytes variable file)
  file(READ ${file} hex HEX)
  if(hex STREQUAL "")
    message(FATAL_ERROR "root certificate ${file} is empty or missing")
  endif()
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  set(${variable} "${bytes}" PARENT_SCOPE)
endfunction()

glint_der_bytes(GLINT_ROOT_A_BYTES ${GLINT_ROOT_A_CERT})
glint_der_bytes(GLINT_ROOT_B_BYTES ${GLINT_ROOT_B_CERT})
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${GLINT_ROOT_A_CERT}
                                                                ${GLINT_ROOT_B_CERT})
set(GLINT_BUILT_IN_ROOTS ${CMAKE_CURRENT_BINARY_DIR}/BuiltInRoots.cpp)
configure_file(${CMAKE_CURRENT_LIST_DIR}/BuiltInRoots.cpp.in ${GLINT_BUILT_IN_ROOTS} @ONLY)
