# Common settings for every target of the project: warnings, sanitizers.
function(morvane_target target)
    target_compile_options(${target} PRIVATE -Wall -Wextra)
    if(MORVANE_SANITIZE)
        target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer
                                                 -fno-sanitize-recover=undefined)
        target_link_options(${target} PRIVATE -fsanitize=address,undefined)
    endif()
endfunction()

# A core library: plain C++, never Qt.
function(morvane_core_library name)
    add_library(${name} STATIC ${ARGN})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
    morvane_target(${name})
endfunction()

# A test program of GoogleTest cases, registered with CTest one case at a time.
function(morvane_test name)
    add_executable(${name} ${ARGN} ${CMAKE_SOURCE_DIR}/tests/support/LeakSuppressions.cpp)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main GTest::gmock)
    morvane_target(${name})
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
                         PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

# A core library made of every .cpp file in the calling folder (not its subfolders), so that
# adding a file needs no edit here. Until it has sources it is an interface library.
function(morvane_glob_core_library name)
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    if(sources)
        morvane_core_library(${name} ${sources})
        target_link_libraries(${name} PUBLIC ${ARGN})
    else()
        add_library(${name} INTERFACE)
        target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR}/src)
        target_link_libraries(${name} INTERFACE ${ARGN})
    endif()
endfunction()

# A test program made of every .cpp file in the calling folder; nothing when there are none.
function(morvane_glob_test name)
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    if(sources)
        morvane_test(${name} ${sources})
        target_link_libraries(${name} PRIVATE ${ARGN})
        target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
    endif()
endfunction()
