#include "sorvu_app.h"

AFX_IMPLEMENT_APP(CSorvuApp);
