# Test code signing of the Windows build: one self-signed certificate per
# machine, made once outside the repository, signs both driver images before
# they are appended and Vantrel.exe after. Test machines trust it through
# test signing mode; it is no release signature.
set(VANTREL_SIGNING_DIR "$ENV{HOME}/.vantrel-test-signing" CACHE PATH
    "Folder of the test code-signing certificate (made when missing)")
set(VANTREL_SIGNING_CERT ${VANTREL_SIGNING_DIR}/certificate.pem)
set(VANTREL_SIGNING_KEY ${VANTREL_SIGNING_DIR}/key.pem)

find_program(OPENSSL openssl REQUIRED)
find_program(OSSLSIGNCODE osslsigncode REQUIRED)

if(NOT EXISTS ${VANTREL_SIGNING_CERT} OR NOT EXISTS ${VANTREL_SIGNING_KEY})
    file(MAKE_DIRECTORY ${VANTREL_SIGNING_DIR})
    execute_process(
        COMMAND ${OPENSSL} req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650
                -subj "/CN=Vantrel Test Signing"
                -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning"
                -keyout ${VANTREL_SIGNING_KEY} -out ${VANTREL_SIGNING_CERT}
        RESULT_VARIABLE made OUTPUT_QUIET ERROR_VARIABLE made_error)
    if(NOT made EQUAL 0)
        message(FATAL_ERROR "cannot make the test signing certificate: ${made_error}")
    endif()
endif()

# Signs the target's file in place after every link of it.
function(vantrel_sign_after_build target)
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -DOSSLSIGNCODE=${OSSLSIGNCODE} -DCERT=${VANTREL_SIGNING_CERT}
                -DKEY=${VANTREL_SIGNING_KEY} -DFILE=$<TARGET_FILE:${target}>
                -P ${PROJECT_SOURCE_DIR}/tools/sign-file.cmake
        VERBATIM)
endfunction()
