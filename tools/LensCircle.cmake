# The synthetic scene, the lens-circle finder and cropper and the lens models: shared by the tools,
# their tests and the GStreamer plugin, which may be built without the tools (and their Qt and highgui).
find_package(OpenCV REQUIRED COMPONENTS core imgproc)

if(NOT TARGET zrfisheye_scene)
  # The synthetic scene: the demo's sample and the accuracy tests' ground truth.
  add_library(zrfisheye_scene STATIC ${CMAKE_CURRENT_LIST_DIR}/scene/FisheyeScene.cpp)
  target_include_directories(zrfisheye_scene PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${PROJECT_SOURCE_DIR}/include)
  target_include_directories(zrfisheye_scene SYSTEM PUBLIC ${OpenCV_INCLUDE_DIRS})
  target_link_libraries(zrfisheye_scene PUBLIC opencv_core opencv_imgproc)
  target_compile_options(zrfisheye_scene PRIVATE ${ZRFISHEYE_WARNINGS})
endif()

if(NOT TARGET zrfisheye_lenscircle)
  # Position-independent: it goes into the plugin module too. Of the scene it takes only the
  # NV12 picture type, no code.
  add_library(zrfisheye_lenscircle STATIC ${CMAKE_CURRENT_LIST_DIR}/zrfisheye/LensCircle.cpp)
  target_include_directories(zrfisheye_lenscircle PUBLIC ${CMAKE_CURRENT_LIST_DIR}/zrfisheye
                                                         ${CMAKE_CURRENT_LIST_DIR} ${PROJECT_SOURCE_DIR}/include)
  target_include_directories(zrfisheye_lenscircle SYSTEM PUBLIC ${OpenCV_INCLUDE_DIRS})
  target_link_libraries(zrfisheye_lenscircle PUBLIC opencv_core opencv_imgproc)
  target_compile_options(zrfisheye_lenscircle PRIVATE ${ZRFISHEYE_WARNINGS})
  set_target_properties(zrfisheye_lenscircle PROPERTIES POSITION_INDEPENDENT_CODE ON)
endif()

if(NOT TARGET zrfisheye_lensmodel)
  # The lens models' checks and the focal-length conversion, which the shared library keeps
  # hidden, and their names as text. Lens.cpp is compiled as the library compiles it, so both
  # agree on every lens.
  add_library(zrfisheye_lensmodel STATIC ${PROJECT_SOURCE_DIR}/src/geometry/Lens.cpp
                                         ${CMAKE_CURRENT_LIST_DIR}/zrfisheye/LensText.cpp)
  target_include_directories(zrfisheye_lensmodel PUBLIC ${PROJECT_SOURCE_DIR}/src/geometry
                                                        ${CMAKE_CURRENT_LIST_DIR}/zrfisheye ${PROJECT_SOURCE_DIR}/include)
  target_compile_options(zrfisheye_lensmodel PRIVATE ${ZRFISHEYE_WARNINGS} -ffp-contract=off)
  set_target_properties(zrfisheye_lensmodel PROPERTIES POSITION_INDEPENDENT_CODE ON)
endif()
