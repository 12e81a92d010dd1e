// Models and shapes, internals shared by the model and shape registries.
#pragma once

// Deletes shapes whose generation is neither 0 nor current (with the model purge).
void shape_purge(int debug_level);
void shape_reset_for_tests();
