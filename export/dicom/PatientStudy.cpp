#include "export/dicom/PatientStudy.h"
