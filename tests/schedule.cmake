# Read by CTest after the GoogleTest cases are discovered (tests/CMakeLists.txt).
# The live sound test plays in real time: it shares a lock with the full-screen
# window test, which takes two cores. The longest cases carry their cost
# (seconds on an idle machine), so that even a first run, without CTest's
# timing of earlier runs, starts them first.
set_tests_properties(LiveSound.StreamHandedToSdlIsTheOfflineRenderFromOrderZero
                     PROPERTIES RESOURCE_LOCK real_time_sound COST 5)
set_tests_properties(ReferenceFrames.EveryInstantOfTheShowMatches PROPERTIES COST 7)
