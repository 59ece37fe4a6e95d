# The progress window and its taskbar progress under Wine.

# The taskbar wrapper against the prefix's version and a recording taskbar list.
msilaunch_add_wine_test(taskbar_progress_wine_test SOURCES taskbar_progress_wine_test.cpp)

# A real modal window under the tree's Xvfb writing real files. The program
# links the launcher's resources, so the window loads the "APP" icons (and
# runs with the common controls the manifest asks for) as the launcher does.
msilaunch_add_wine_test(progress_window_wine_test SOURCES
  progress_window_wine_test.cpp
  $<TARGET_OBJECTS:msilaunch_resources>)
