# Qt's Gui package wants Apple's OpenGL framework when it believes it is on macOS; these builds
# only compile, so an empty target stands in for it.
if(NOT TARGET WrapOpenGL::WrapOpenGL)
  add_library(WrapOpenGL::WrapOpenGL INTERFACE IMPORTED GLOBAL)
endif()
