--exclude-path
/g
--exclude-attribute=/d
-E/h
-A
/k
a
b