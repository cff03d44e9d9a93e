#pragma once
#include "../ntddser.h"
