#include "fake/fake_machine.h"
