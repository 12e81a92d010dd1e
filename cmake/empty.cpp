// Keeps a library target valid while its folder has no sources yet.
static int dv_empty_unit [[maybe_unused]];
