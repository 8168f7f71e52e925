# tindrel_glob(<var> <dir>...): the .cpp files under the given folders,
# re-globbed on every build so new files need no CMake edit.
function(tindrel_glob out)
    set(files)
    foreach(dir IN LISTS ARGN)
        file(GLOB_RECURSE found CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.h)
        list(APPEND files ${found})
    endforeach()
    set(${out} ${files} PARENT_SCOPE)
endfunction()

# tindrel_add_test(<name> LABEL <label> SOURCES ... LIBS ... [ENV VAR=value]
#                  [FIXTURES <fixture>...] [LOCK <resource>])
# One GoogleTest executable, its cases discovered one by one under a label.
# FIXTURES names the CTest fixtures every case needs; cases that share a
# LOCK run one at a time.
function(tindrel_add_test name)
    cmake_parse_arguments(T "" "LABEL;TIMEOUT;ENV;LOCK" "SOURCES;LIBS;FIXTURES" ${ARGN})
    if(NOT T_LABEL)
        set(T_LABEL unit)
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE tindrel_test_support ${T_LIBS} GTest::gmock)
    set_property(GLOBAL APPEND PROPERTY TINDREL_TEST_TARGETS_${T_LABEL} ${name})
    set(props LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT})
    if(T_ENV)
        list(APPEND props ENVIRONMENT "${T_ENV}")
    endif()
    if(T_FIXTURES)
        list(APPEND props FIXTURES_REQUIRED "${T_FIXTURES}")
    endif()
    if(T_LOCK)
        list(APPEND props RESOURCE_LOCK "${T_LOCK}")
    endif()
    # Under ThreadSanitizer every run reads the suppressions of Qt's own
    # races; one entry, so that it leaves ENVIRONMENT to the test. The
    # runtime also needs QProcess's children kept from its thread state.
    if(CMAKE_BUILD_TYPE STREQUAL "Tsan")
        target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/TsanVforkClone.cpp)
        list(APPEND props ENVIRONMENT_MODIFICATION
            "TSAN_OPTIONS=set:suppressions=${CMAKE_SOURCE_DIR}/tests/support/tsan.supp:ignore_noninstrumented_modules=1:second_deadlock_stack=1")
    endif()
    gtest_discover_tests(${name}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 60
        PROPERTIES ${props})
endfunction()

# With globbed sources and Ninja, automoc does not notice a header that appears
# after the first build (a merge, a new file) and the link fails on a missing
# vtable. Writing the source list to a file that moc's step depends on makes
# every change of the list re-run it.
function(tindrel_autogen_follows_sources target)
    get_target_property(sources ${target} SOURCES)
    file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${target}.sources
        CONTENT "${sources}")
    set_property(TARGET ${target} APPEND PROPERTY
        AUTOGEN_TARGET_DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/${target}.sources)
endfunction()
