-n
12
--count=05
a
b