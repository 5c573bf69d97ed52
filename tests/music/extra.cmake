# The module generator's writer is tested here too, through the music tests'
# libopenmpt reader.
target_sources(music_tests PRIVATE ${CMAKE_SOURCE_DIR}/media/it_writer.cpp)
