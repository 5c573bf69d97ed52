# The media tests also exercise the generator's own writers and geometry
# directly, so they compile those sources in (the generator is an executable,
# not a library).
target_sources(media_tests PRIVATE
    ${CMAKE_SOURCE_DIR}/media/image.cpp
    ${CMAKE_SOURCE_DIR}/media/bmp_writer.cpp
    ${CMAKE_SOURCE_DIR}/media/tds_writer.cpp
    ${CMAKE_SOURCE_DIR}/media/mesh_builder.cpp)
