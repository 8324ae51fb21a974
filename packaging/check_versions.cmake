# Refuses a package whose changelog or metainfo does not describe the version being built: the
# newest changelog entry and the newest <release> of the metainfo must both be the project
# version of CMakeLists.txt. Usage: cmake -DSOURCE_DIR=<tree> -P check_versions.cmake
file(READ "${SOURCE_DIR}/CMakeLists.txt" project)
string(REGEX MATCH "project\\(plovik VERSION ([0-9.]+)" _ "${project}")
set(version "${CMAKE_MATCH_1}")

file(STRINGS "${SOURCE_DIR}/packaging/changelog" changelog LIMIT_COUNT 1)
string(REGEX MATCH "^plovik \\(([^)]+)\\)" _ "${changelog}")
set(changelogVersion "${CMAKE_MATCH_1}")

file(READ "${SOURCE_DIR}/packaging/cn.trenzo.workstation.metainfo.xml.in" metainfo)
string(REGEX MATCH "<release version=\"([^\"]+)\"" _ "${metainfo}")
set(metainfoVersion "${CMAKE_MATCH_1}")

set(problems)
if(NOT changelogVersion STREQUAL version)
    list(APPEND problems "packaging/changelog: newest entry is '${changelogVersion}'")
endif()
if(NOT metainfoVersion STREQUAL version)
    list(APPEND problems "packaging/cn.trenzo.workstation.metainfo.xml.in: newest release is '${metainfoVersion}'")
endif()
if(problems)
    list(JOIN problems "; " text)
    message(FATAL_ERROR "The project version is ${version}, but ${text}. Add an entry for ${version} first.")
endif()
message(STATUS "versions agree: ${version}")
