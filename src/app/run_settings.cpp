#include "run_settings.h"

RunSettings settings{};
