#include "dingtalk/base64.hpp"
