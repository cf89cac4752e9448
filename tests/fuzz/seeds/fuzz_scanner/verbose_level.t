-v3
--verbose=2
-cq
a.h5
b.h5
/x
/y