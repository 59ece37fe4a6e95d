# The hand-off: finding and running msiexec, the registration check and the
# cleanup, against a stand-in msiexec, real registry keys and real files.

msilaunch_add_wine_test(handoff_wine_test SOURCES handoff_wine_test.cpp)
