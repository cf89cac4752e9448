a.h5
b.h5