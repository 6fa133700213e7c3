# SPDX-License-Identifier: GPL-3.0-or-later
# The fuzz targets' saved inputs (seed corpus and crash regressions) replayed as plain tests:
# each target is built with a small main() that runs it over every file of its folders.
set(QUELLSPAN_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR})
foreach(target fuzz_record fuzz_csvnumber fuzz_recordingreader fuzz_rundescription fuzz_statistics fuzz_rigmessages)
    add_executable(${target}_replay ${QUELLSPAN_FUZZ_DIR}/${target}.cpp ${QUELLSPAN_FUZZ_DIR}/replay_main.cpp)
    target_link_libraries(${target}_replay PRIVATE quellspan_data quellspan_analysis quellspan_remote)
    add_test(NAME ${target}_replay COMMAND ${target}_replay
        ${QUELLSPAN_FUZZ_DIR}/corpus/${target} ${QUELLSPAN_FUZZ_DIR}/regressions/${target})
endforeach()
