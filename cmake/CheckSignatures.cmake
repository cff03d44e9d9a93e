# Test: each file carries a valid signature by the test certificate.
# cmake -DOSSLSIGNCODE=osslsigncode -DCERT=c.pem "-DFILES=a;b" -P CheckSignatures.cmake
cmake_minimum_required(VERSION 3.25)
foreach(file IN LISTS FILES)
    execute_process(COMMAND ${OSSLSIGNCODE} verify -CAfile ${CERT} -in ${file}
                    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "${file}: no valid signature\n${output}")
    endif()
    message(STATUS "${file}: signature verified")
endforeach()
