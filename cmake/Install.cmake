# cmake --install: the shared library, its public headers, a pkg-config file,
# a CMake package with the imported target OKCCamera::okccamera, and the udev rules.
include(CMakePackageConfigHelpers)

install(TARGETS okccamera EXPORT OKCCameraTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# The plain C interface and the exported camera classes; the other headers
# describe the library's internals.
file(GLOB OKC_CLASS_HEADERS ${CMAKE_CURRENT_SOURCE_DIR}/include/okccamera/CCamera*.h)
install(FILES
    include/okccamera/okccamera.h
    include/okccamera/CameraTypes.h
    include/okccamera/Export.h
    include/okccamera/FrameQueue.h
    include/okccamera/Fx3Download.h
    ${OKC_CLASS_HEADERS}
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/okccamera)

# The prefix is found from the .pc file's own place, so the file stays right
# when cmake --install --prefix (or DESTDIR) puts the tree elsewhere.
file(RELATIVE_PATH OKC_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" OKC_PC_TO_PREFIX "${OKC_PC_TO_PREFIX}")
configure_file(cmake/okccamera.pc.in ${CMAKE_CURRENT_BINARY_DIR}/okccamera.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/okccamera.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

set(OKC_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/OKCCamera)
install(EXPORT OKCCameraTargets NAMESPACE OKCCamera:: DESTINATION ${OKC_CMAKE_DIR})
configure_package_config_file(cmake/OKCCameraConfig.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/OKCCameraConfig.cmake
  INSTALL_DESTINATION ${OKC_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/OKCCameraConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/OKCCameraConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/OKCCameraConfigVersion.cmake
  DESTINATION ${OKC_CMAKE_DIR})

# udev reads /usr/lib/udev/rules.d (packages) and /etc/udev/rules.d (the
# administrator), never a rules folder under another prefix. Installed to
# /usr the rules go where udev reads them; elsewhere they are kept under
# share/okccamera/udev, to be copied to /etc/udev/rules.d (see the README).
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(OKC_DEFAULT_UDEV_DIR lib/udev/rules.d)
else()
  set(OKC_DEFAULT_UDEV_DIR ${CMAKE_INSTALL_DATADIR}/okccamera/udev)
endif()
set(OKC_UDEV_RULES_DIR ${OKC_DEFAULT_UDEV_DIR} CACHE STRING "Where cmake --install puts the udev rules")
install(FILES udev/60-okccamera.rules DESTINATION ${OKC_UDEV_RULES_DIR})
