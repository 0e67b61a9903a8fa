// The network settings of the station ([DICOM] of ORVI2.ini).
