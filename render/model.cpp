// Model registry by name and generation. The .jm mesh reader and drawing come with the
// renderer; until then a model that is not registered loads as none.
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "core/common.h"
#include "core/frame.h"
#include "render/model.h"
#include "render/model_local.h"
#include "render/texture.h"

// ---- per session: the model registry ----
static struct {
  Growable models;  // Model *
  int ready;
  int debug_level;
} s_models;

Model *model_load(const char *name) {
  if (!name || !*name || !s_models.ready) return nullptr;
  Model *found = nullptr;
  for (int i = 0; i < s_models.models.count && !found; i++) {
    Model *m = *(Model **)growable_at(&s_models.models, i);
    if (!strcmp(m->name, name)) found = m;
  }
  for (int i = 0; i < s_models.models.count && !found; i++) {
    Model *m = *(Model **)growable_at(&s_models.models, i);
    if (!strcasecmp(m->name, name)) {
      show_messagef("Warning: case mismatch on '%.900s'", name);
      found = m;
    }
  }
  if (found && found->generation != 0) found->generation = texture_generation();
  return found;
}

static void model_free(Model *m) {
  while (m) {
    Model *next = m->lod_next;
    free(m->name);
    free(m);
    m = next;
  }
}

void model_purge() {
  if (s_models.ready) {
    int current = texture_generation();
    for (int i = s_models.models.count - 1; i >= 0; i--) {
      Model *m = *(Model **)growable_at(&s_models.models, i);
      if (m->generation == 0 || m->generation == current) continue;
      if (s_models.debug_level >= 1) show_messagef("deleting model %.900s", m->name);
      model_free(m);
      Model **items = (Model **)s_models.models.data;
      memmove(items + i, items + i + 1, sizeof(Model *) * size_t(s_models.models.count - i - 1));
      s_models.models.count--;
    }
  }
  shape_purge(s_models.debug_level);
}

void model_reset_for_tests() {
  if (s_models.ready) {
    for (int i = 0; i < s_models.models.count; i++) model_free(*(Model **)growable_at(&s_models.models, i));
    growable_free(&s_models.models);
  }
  s_models = {};
  shape_reset_for_tests();
}
