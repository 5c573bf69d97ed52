# Read by CTest once the GoogleTest cases exist: the live sound test plays in
# real time, never beside the full-screen window test (two cores' work); COST
# (seconds on an idle machine) starts the longest first even in a first run.
set_tests_properties(LiveSound.StreamHandedToSdlIsTheOfflineRenderFromOrderZero
                     PROPERTIES RESOURCE_LOCK real_time_sound COST 5)
set_tests_properties(ReferenceFrames.EveryInstantOfTheShowMatches PROPERTIES COST 7)
