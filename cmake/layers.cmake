# The program's layers, lowest first. Each is a static library of its
# folder's sources that sees its own headers and those of the layers below
# it, and nothing else: its include path is a folder of links to just those
# layers, so a wrong include does not compile.
set(ZARN_LAYERS base agent link cli)
set(ZARN_LAYER_VIEWS ${CMAKE_BINARY_DIR}/layer-views)

# Checked on its own, a layer may leave no symbol undefined but what the
# layers below it and the C library define, so that a call into a higher
# layer does not link. Sanitized and fuzzed objects need their runtime, which
# only a program links, so those builds leave the check out.
set(ZARN_CHECK_LAYER_LINKS ON)
if(ZARN_SANITIZE OR ZARN_FUZZ)
  set(ZARN_CHECK_LAYER_LINKS OFF)
endif()

# zarn_layer(LAYER SOURCES...): the library zarn-LAYER.
function(zarn_layer layer)
  list(FIND ZARN_LAYERS ${layer} position)
  list(SUBLIST ZARN_LAYERS 0 ${position} below)
  set(view ${ZARN_LAYER_VIEWS}/${layer})
  file(MAKE_DIRECTORY ${view})
  foreach(seen IN LISTS below ITEMS ${layer})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${seen} ${view}/${seen} SYMBOLIC)
  endforeach()

  list(TRANSFORM below PREPEND zarn- OUTPUT_VARIABLE below_libraries)
  add_library(zarn-${layer} STATIC ${ARGN})
  target_include_directories(zarn-${layer} PUBLIC ${view})
  target_link_libraries(zarn-${layer} PUBLIC zarn-flags ${below_libraries})

  if(ZARN_CHECK_LAYER_LINKS)
    add_library(zarn-${layer}-link-check SHARED $<TARGET_OBJECTS:zarn-${layer}>)
    target_link_libraries(zarn-${layer}-link-check PRIVATE ${below_libraries})
    target_link_options(zarn-${layer}-link-check PRIVATE -Wl,--no-undefined)
  endif()
endfunction()
