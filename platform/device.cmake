# The device-access part of the seam: the virtual kernel. On Linux it is part of the platform
# library, so that the driver library and its host share one table of devices. The Windows build
# with KX7_VIRTUAL_DEVICE links it into the DLL, which then reaches only the virtual devices.
set(KX7_VKERNEL_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/vkernel/KernelState.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vkernel/SetupApi.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vkernel/VirtualKernel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vkernel/KsUserModule.cpp)

if(WIN32)
  if(KX7_VIRTUAL_DEVICE)
    add_library(kx7_vkernel STATIC ${KX7_VKERNEL_SOURCES})
    target_link_libraries(kx7_vkernel PUBLIC kx7_platform_headers advapi32 PRIVATE kx7_warnings)
    target_compile_definitions(kx7_vkernel PUBLIC KX7_VIRTUAL_DEVICE)
    target_link_libraries(kx7_platform INTERFACE kx7_vkernel)
  endif()
else()
  target_sources(kx7_platform PRIVATE ${KX7_VKERNEL_SOURCES})
endif()
