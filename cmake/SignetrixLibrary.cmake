# signetrix_library(NAME DEPS...): one static library from every source of the
# calling folder. A folder whose sources have not been written yet gives an
# interface library, so the targets that link it still configure.
function(signetrix_library NAME)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    add_library(${NAME} STATIC ${sources} ${headers})
    target_include_directories(${NAME} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${NAME} PUBLIC ${ARGN})
  else()
    add_library(${NAME} INTERFACE)
    target_include_directories(${NAME} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${NAME} INTERFACE ${ARGN})
  endif()
endfunction()
