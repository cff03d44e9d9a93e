# Signs FILE in place with the test certificate (SHA-256, no timestamp: the
# build runs offline).
# cmake -DOSSLSIGNCODE=osslsigncode -DCERT=c.pem -DKEY=k.pem -DFILE=f -P sign-file.cmake
cmake_minimum_required(VERSION 3.25)
foreach(required OSSLSIGNCODE CERT KEY FILE)
    if(NOT DEFINED ${required})
        message(FATAL_ERROR "sign-file: ${required} is not set")
    endif()
endforeach()
set(signed "${FILE}.signed")
file(REMOVE "${signed}")
execute_process(
    COMMAND ${OSSLSIGNCODE} sign -certs ${CERT} -key ${KEY} -h sha256 -n Vantrel -in ${FILE} -out ${signed}
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
    file(REMOVE "${signed}")
    message(FATAL_ERROR "sign-file: cannot sign ${FILE}: ${output}")
endif()
file(RENAME "${signed}" "${FILE}")
