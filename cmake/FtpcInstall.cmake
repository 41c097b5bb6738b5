# Installing the library: headers, the library, the tools and the plug-ins under a prefix,
# with a CMake package (find_package(ftpc) -> ftpc::ftpc and ftpc::<plug-in>), a pkg-config
# file ftpc.pc and a Debian package (cpack -G DEB).
#
# Installed headers are included as <ftpc/FOLDER/Name.h>. Their own includes name the folder
# ("core/IdBuffer.h"); the installed copies say "../core/IdBuffer.h" instead, which resolves
# next to the including header before any include path, so a consumer's own core/ or global/
# folders can never be picked up by mistake.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(FTPC_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/ftpc)
# The library, its headers and the tools; each plug-in is a component of its own.
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME main)
set(FTPC_STAGED_INCLUDE_DIR ${CMAKE_BINARY_DIR}/include)
set_property(GLOBAL PROPERTY FTPC_PLUGINS "")

# Stages the headers of FOLDERS as ${FTPC_STAGED_INCLUDE_DIR}/ftpc/FOLDER/... with their
# includes rewritten, kept current by the TARGET's build.
function(ftpc_stage_headers TARGET)
  set(outputs)
  foreach(folder IN LISTS ARGN)
    file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*.h)
    foreach(header IN LISTS headers)
      get_filename_component(name ${header} NAME)
      set(staged ${FTPC_STAGED_INCLUDE_DIR}/ftpc/${folder}/${name})
      add_custom_command(OUTPUT ${staged}
        COMMAND ${CMAKE_COMMAND} -DINPUT=${header} -DOUTPUT=${staged}
                -P ${CMAKE_SOURCE_DIR}/cmake/FtpcStageHeader.cmake
        DEPENDS ${header} ${CMAKE_SOURCE_DIR}/cmake/FtpcStageHeader.cmake VERBATIM)
      list(APPEND outputs ${staged})
    endforeach()
  endforeach()
  add_custom_target(${TARGET}_headers ALL DEPENDS ${outputs})
  add_dependencies(${TARGET} ${TARGET}_headers)
endfunction()

# Shared builds export the library's own namespace and nothing else (no instantiations of
# the standard library, no helpers of anonymous namespaces).
function(ftpc_export_public_api TARGET)
  get_target_property(type ${TARGET} TYPE)
  if(type STREQUAL "SHARED_LIBRARY" AND NOT WIN32)
    target_link_options(${TARGET} PRIVATE
      -Wl,--version-script=${CMAKE_SOURCE_DIR}/cmake/ftpc.map -Wl,--no-undefined)
    set_target_properties(${TARGET} PROPERTIES
      VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}
      LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/ftpc.map)
  endif()
endfunction()

# With --strip (as cpack installs), a static library installed for COMPONENT loses its debug
# information and keeps its symbols; CMake itself strips only programs and shared libraries.
function(ftpc_strip_debug_on_install TARGET COMPONENT)
  get_target_property(type ${TARGET} TYPE)
  if(type STREQUAL "STATIC_LIBRARY" AND CMAKE_STRIP)
    set(installed "\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}")
    install(CODE "if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug
        \"${installed}/$<TARGET_FILE_NAME:${TARGET}>\" COMMAND_ERROR_IS_FATAL ANY)
    endif()" COMPONENT ${COMPONENT})
  endif()
endfunction()

# The staged headers of FOLDERS, installed as part of COMPONENT.
function(ftpc_install_headers COMPONENT)
  foreach(folder IN LISTS ARGN)
    install(DIRECTORY ${FTPC_STAGED_INCLUDE_DIR}/ftpc/${folder}
      DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ftpc COMPONENT ${COMPONENT})
  endforeach()
endfunction()

ftpc_stage_headers(ftpc ${FTPC_LIBRARY_DIRS})
ftpc_export_public_api(ftpc)
target_include_directories(ftpc INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(TARGETS ftpc EXPORT ftpcTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
ftpc_strip_debug_on_install(ftpc ${CMAKE_INSTALL_DEFAULT_COMPONENT_NAME})
ftpc_install_headers(${CMAKE_INSTALL_DEFAULT_COMPONENT_NAME} ${FTPC_LIBRARY_DIRS})

# A plug-in (tls/, compress/): its own library target ftpc_FOLDER from FOLDER/*.cpp, linked
# to ftpc and LIBRARIES, installed as the package component FOLDER (its own .deb,
# ftpconsole-FOLDER). Consumers find it with find_package(ftpc COMPONENTS FOLDER) as
# ftpc::ftpc_FOLDER, which looks for PACKAGES again, or with pkg-config as ftpc-FOLDER, which
# requires the pkg-config modules PKGCONFIG. Adding one is one line, e.g.
#   ftpc_add_plugin(tls PACKAGES OpenSSL LIBRARIES OpenSSL::SSL PKGCONFIG libssl)
function(ftpc_add_plugin FOLDER)
  cmake_parse_arguments(PLUGIN "" "" "PACKAGES;LIBRARIES;PKGCONFIG" ${ARGN})
  foreach(package IN LISTS PLUGIN_PACKAGES)
    find_package(${package} REQUIRED)
  endforeach()
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${FOLDER}/*.cpp)
  set(target ftpc_${FOLDER})
  add_library(${target} ${sources})
  add_library(ftpc::${target} ALIAS ${target})
  target_link_libraries(${target} PUBLIC ftpc ${PLUGIN_LIBRARIES})
  ftpc_stage_headers(${target} ${FOLDER})
  ftpc_export_public_api(${target})
  install(TARGETS ${target} EXPORT ${target}Targets COMPONENT ${FOLDER}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  ftpc_strip_debug_on_install(${target} ${FOLDER})
  ftpc_install_headers(${FOLDER} ${FOLDER})
  install(EXPORT ${target}Targets NAMESPACE ftpc:: DESTINATION ${FTPC_INSTALL_CMAKEDIR}
    COMPONENT ${FOLDER})
  # What find_package(ftpc COMPONENTS FOLDER) loads: the plug-in's packages, then its target.
  set(component_file ${CMAKE_BINARY_DIR}/ftpc-component-${FOLDER}.cmake)
  set(FTPC_COMPONENT_TARGET ${target})
  set(FTPC_COMPONENT_PACKAGES ${PLUGIN_PACKAGES})
  configure_file(${CMAKE_SOURCE_DIR}/cmake/ftpc-component.cmake.in ${component_file} @ONLY)
  install(FILES ${component_file} DESTINATION ${FTPC_INSTALL_CMAKEDIR} COMPONENT ${FOLDER})
  list(JOIN PLUGIN_PKGCONFIG " " PLUGIN_PKGCONFIG)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/ftpc-plugin.pc.in ${CMAKE_BINARY_DIR}/ftpc-${FOLDER}.pc
    @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/ftpc-${FOLDER}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
    COMPONENT ${FOLDER})
  set_property(GLOBAL APPEND PROPERTY FTPC_PLUGINS ${FOLDER})
endfunction()

# Written once every target exists (tools and plug-ins are declared later in the tree).
function(ftpc_finish_install)
  foreach(tool ftp ftpc-cli)
    if(TARGET ${tool})
      install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
  endforeach()
  install(EXPORT ftpcTargets NAMESPACE ftpc:: DESTINATION ${FTPC_INSTALL_CMAKEDIR})
  configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/ftpcConfig.cmake.in
    ${CMAKE_BINARY_DIR}/ftpcConfig.cmake INSTALL_DESTINATION ${FTPC_INSTALL_CMAKEDIR})
  write_basic_package_version_file(${CMAKE_BINARY_DIR}/ftpcConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
  install(FILES ${CMAKE_BINARY_DIR}/ftpcConfig.cmake ${CMAKE_BINARY_DIR}/ftpcConfigVersion.cmake
    DESTINATION ${FTPC_INSTALL_CMAKEDIR})
  configure_file(${CMAKE_SOURCE_DIR}/cmake/ftpc.pc.in ${CMAKE_BINARY_DIR}/ftpc.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/ftpc.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL ftpc_finish_install)

# The Debian packages (cpack -G DEB in the build directory): ftpconsole with the tools and
# the library, and one ftpconsole-FOLDER per plug-in. Installed binaries are stripped; the
# static libraries keep their symbols and lose only their debug information.
# A macro, deferred like the install rules above: it needs every plug-in declared.
macro(ftpc_describe_packages)
  get_property(FTPC_PLUGINS GLOBAL PROPERTY FTPC_PLUGINS)
  set(CPACK_PACKAGE_NAME ftpconsole)
  set(CPACK_PACKAGE_VENDOR "ftpconsole")
  set(CPACK_PACKAGE_CONTACT "ftpconsole developers <ftpconsole@invalid>")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "one-file FTP transfer tool and the C++ FTP client library ftpc")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL ${CMAKE_INSTALL_DEFAULT_COMPONENT_NAME} ${FTPC_PLUGINS})
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SECTION net)
  set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
  string(TOUPPER "${CMAKE_INSTALL_DEFAULT_COMPONENT_NAME}" FTPC_MAIN_COMPONENT)
  set(CPACK_DEBIAN_${FTPC_MAIN_COMPONENT}_PACKAGE_NAME ftpconsole)
  # Both put a program named ftp into /usr/bin.
  set(CPACK_DEBIAN_${FTPC_MAIN_COMPONENT}_PACKAGE_CONFLICTS "ftp, tnftp")
  foreach(plugin IN LISTS FTPC_PLUGINS)
    string(TOUPPER ${plugin} upper)
    set(CPACK_COMPONENT_${upper}_DEPENDS ${CMAKE_INSTALL_DEFAULT_COMPONENT_NAME})
    set(CPACK_COMPONENT_${upper}_DESCRIPTION "plug-in ${plugin} of the C++ FTP client library ftpc")
  endforeach()
  # The zlib plug-in is a static library: programs linking it link zlib too.
  set(CPACK_DEBIAN_COMPRESS_PACKAGE_DEPENDS "zlib1g-dev")
  include(CPack)
endmacro()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL ftpc_describe_packages)
