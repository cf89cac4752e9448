-p
0
--delta=0x
-e
a
b
c[1;2;3;4]
d[5]