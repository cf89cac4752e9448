--verb
-Z
--delta