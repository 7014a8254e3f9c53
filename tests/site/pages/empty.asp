<% Dim Word
word = "ok"
response.write WORD %>
