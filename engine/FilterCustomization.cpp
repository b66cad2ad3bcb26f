#include "engine/FilterCustomization.h"

FilterCustomization& FilterCustomization::sharedInstance() {
    static FilterCustomization instance;
    return instance;
}
