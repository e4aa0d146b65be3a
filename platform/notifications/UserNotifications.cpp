#include "platform/notifications/UserNotifications.h"
