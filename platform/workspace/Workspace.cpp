#include "platform/workspace/Workspace.h"
