#include "sorvu_app.h"

wxIMPLEMENT_APP(CSorvuApp);
