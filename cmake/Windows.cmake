# The Windows build (cross-compiled with cmake/mingw-w64.cmake): the domain, the
# Win32 backend, scandor-cli.exe and the tests that run under Wine. What needs
# Linux (the Linux backend, the privileged helper, the Debian package) stays out;
# the window needs Qt 6 for Windows.
find_package(Threads REQUIRED)

# Windows programs run under Wine in a prefix of the build tree.
if(SCANDOR_WINE)
  set(SCANDOR_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  configure_file(cmake/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
endif()
# Windows' counterparts of the Linux hardening: address randomisation, no
# execution from data pages.
add_link_options(-Wl,--dynamicbase -Wl,--nxcompat)

# nlohmann/json is header-only: its Debian headers serve the cross build too,
# through a folder that holds nothing else of /usr/include.
set(SCANDOR_WIN_JSON ${CMAKE_BINARY_DIR}/json-include)
file(MAKE_DIRECTORY ${SCANDOR_WIN_JSON})
file(CREATE_LINK /usr/include/nlohmann ${SCANDOR_WIN_JSON}/nlohmann SYMBOLIC)
add_library(scandor_json INTERFACE)
target_include_directories(scandor_json SYSTEM INTERFACE ${SCANDOR_WIN_JSON})
add_library(nlohmann_json::nlohmann_json ALIAS scandor_json)

add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601
                        __USE_MINGW_ANSI_STDIO=1)

file(GLOB PLATFORM_SOURCES CONFIGURE_DEPENDS
     src/platform/*.cpp src/platform/sim/*.cpp src/platform/win32/*.cpp)
# POSIX-only: the invoking user behind sudo/pkexec, desktop entries, the .reg hive.
list(FILTER PLATFORM_SOURCES EXCLUDE REGEX "/platform/(invoker|desktopentry|hive)\\.cpp$")
add_library(scandor_platform STATIC ${PLATFORM_SOURCES})
target_include_directories(scandor_platform PUBLIC src)
target_link_libraries(scandor_platform PUBLIC nlohmann_json::nlohmann_json Threads::Threads
                      PRIVATE ole32 oleaut32 wbemuuid uuid shell32 advapi32 ws2_32)

file(GLOB DOMAIN_SOURCES CONFIGURE_DEPENDS
     src/drive/*.cpp src/smart/*.cpp src/surface/*.cpp src/shell/*.cpp src/surface/win32/*.cpp)
# Winsock stands in for the POSIX sockets.
list(FILTER DOMAIN_SOURCES EXCLUDE REGEX "/surface/tcpconnection\\.cpp$")
set(SCANDOR_LNG ${CMAKE_CURRENT_SOURCE_DIR}/resources/translations/mainform.lng)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${SCANDOR_LNG})
file(READ ${SCANDOR_LNG} SCANDOR_LNG_HEX HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," SCANDOR_LNG_BYTES "${SCANDOR_LNG_HEX}")
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/generated/mainform_lng.cpp CONTENT
     "#include \"shell/translation.h\"\nnamespace {\nconst char kBytes[] = {@SCANDOR_LNG_BYTES@ 0};\n}\nstd::string_view translation::MainFormTableBytes() { return {kBytes, sizeof kBytes - 1}; }\n"
     @ONLY)
add_library(scandor_domain STATIC ${DOMAIN_SOURCES} ${CMAKE_CURRENT_BINARY_DIR}/generated/mainform_lng.cpp)
target_include_directories(scandor_domain PUBLIC src)
target_link_libraries(scandor_domain PUBLIC scandor_platform PRIVATE ws2_32)

file(GLOB CLI_SOURCES CONFIGURE_DEPENDS tools/cli/*.cpp tools/cli/win32/*.cpp)
add_executable(scandor-cli ${CLI_SOURCES})
target_include_directories(scandor-cli PRIVATE tools/cli)
target_link_libraries(scandor-cli PRIVATE scandor_domain)

if(SCANDOR_GUI)
  find_package(Qt6 QUIET COMPONENTS Widgets)
  if(Qt6_FOUND)
    file(GLOB UI_SOURCES CONFIGURE_DEPENDS src/shell/ui/*.cpp src/shell/ui/*.h)
    add_executable(scandor WIN32 ${UI_SOURCES} resources/mainform.ui resources/icons/icons.qrc)
    set_target_properties(scandor PROPERTIES AUTOMOC ON AUTOUIC ON AUTORCC ON
                          AUTOUIC_SEARCH_PATHS ${CMAKE_CURRENT_SOURCE_DIR}/resources)
    target_link_libraries(scandor PRIVATE scandor_domain Qt6::Widgets)
  else()
    message(STATUS "Qt 6 for Windows not found: the window is not built")
  endif()
endif()

include(CTest)
if(BUILD_TESTING)
  add_subdirectory(tests/windows)
endif()
