// Resource and command ids of Sorvu.
#ifndef SORVU_RESOURCE_H
#define SORVU_RESOURCE_H

#define IDD_ABOUTBOX 100
#define IDR_MAINFRAME 128
#define ID_VIEW_ZOOM50 32771
#define ID_VIEW_ZOOM100 32772
#define ID_VIEW_ZOOM200 32773

#endif
