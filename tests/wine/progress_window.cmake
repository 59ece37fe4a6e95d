# The progress window and its taskbar progress under Wine.

# The taskbar wrapper against the prefix's version and a recording taskbar list.
msilaunch_add_wine_test(taskbar_progress_wine_test SOURCES
  taskbar_progress_wine_test.cpp
  taskbar_recorder.cpp)
