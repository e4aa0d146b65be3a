#include "platform/permissions/Permissions.h"
